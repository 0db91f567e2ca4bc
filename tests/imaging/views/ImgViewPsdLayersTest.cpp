// Layered PSD documents and an image view: the document's layers loaded
// into the view (replacing or after its layers, a transparent base under an
// offset first layer), the view saved with all its layers and the merged
// picture, and a one-layer document's alpha on the merged image. The
// layered fixture is ImageMagick's (tests/fixtures/io/psd/make_fixtures.sh):
// a 7 x 5 picture with "first" (3 x 2 at 1,1) and "second" (2 x 3 at 4,0).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "imaging/io/formats/psd/PsdWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxLayer.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring Psd(const wchar_t* Name) { return testsupport::FixtureDir(L"io\\psd") + L"\\" + Name; }

class PsdLayersView : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        PxInitialize();
        existed_ = PxFormatRegistryExists();
        if (!existed_)
            PxBuildFormatRegistry();
        PxInstallPSDFormat();
    }
    static void TearDownTestSuite()
    {
        if (!existed_)
            PxFreeFormatRegistry();
    }
    void SetUp() override
    {
        view_ = std::make_unique<TImgView>(nullptr);
        view_->SetLegacyBitmap(false);
    }
    TImgIO* IO() { return view_->GetIO(); }
    // The layers of the fixture from Index on, as the file has them.
    void ExpectFileLayers(TImgView& View, int Index)
    {
        ASSERT_EQ(View.GetLayersCount(), Index + 2);
        TPxLayer* first = View.GetLayer(Index);
        EXPECT_EQ(first->Name, L"first");
        EXPECT_EQ(first->PosX, 1);
        EXPECT_EQ(first->PosY, 1);
        ASSERT_EQ(first->Bitmap->GetWidth(), 3);
        ASSERT_EQ(first->Bitmap->GetHeight(), 2);
        EXPECT_EQ(first->Bitmap->GetPixelRGB(0, 0), (TPxRGB{0x30, 0x20, 0x10}));
        EXPECT_EQ(first->Bitmap->GetPixelRGB(2, 1), (TPxRGB{0x00, 0x80, 0xFF}));
        TPxLayer* second = View.GetLayer(Index + 1);
        EXPECT_EQ(second->Name, L"second");
        EXPECT_EQ(second->PosX, 4);
        EXPECT_EQ(second->PosY, 0);
        ASSERT_EQ(second->Bitmap->GetWidth(), 2);
        ASSERT_EQ(second->Bitmap->GetHeight(), 3);
        EXPECT_EQ(second->Bitmap->GetPixelRGB(1, 2), (TPxRGB{0x60, 0x50, 0x40}));
        EXPECT_EQ(second->Bitmap->GetPixelRGB(0, 0), (TPxRGB{0xFF, 0x80, 0x00}));
    }
    // A fully transparent, locked 7 x 5 layer.
    void ExpectTransparentBase(TPxLayer* Layer)
    {
        EXPECT_EQ(Layer->PosX, 0);
        EXPECT_EQ(Layer->PosY, 0);
        EXPECT_TRUE(Layer->Locked);
        ASSERT_EQ(Layer->Bitmap->GetWidth(), 7);
        ASSERT_EQ(Layer->Bitmap->GetHeight(), 5);
        ASSERT_TRUE(Layer->Bitmap->HasAlphaChannel());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(Layer->Bitmap->GetAlpha(x, y), 0) << x << "," << y;
    }
    static inline bool existed_ = false;
    std::unique_ptr<TImgView> view_;
};

TEST_F(PsdLayersView, LayersReplaceTheViewsLayersOverATransparentBase)
{
    view_->GetPxBitmap()->Allocate(4, 4, px24RGB);
    view_->AddLayer();
    view_->AddLayer();
    view_->AddLayer();
    IO()->FileParams->PSDLoadLayers = true;
    IO()->FileParams->PSDReplaceLayers = true;
    IO()->LoadFromFile(Psd(L"layers.psd"));
    ASSERT_FALSE(IO()->AbortFlag) << testing::PrintToString(IO()->GetLastFailureText());
    EXPECT_EQ(IO()->FileParams->FileFormat, ffPSD);
    ExpectTransparentBase(view_->GetLayer(0));
    ExpectFileLayers(*view_, 1);
}

TEST_F(PsdLayersView, WithoutReplaceTheLayersFollowTheViewsOwn)
{
    view_->GetPxBitmap()->Allocate(4, 4, px24RGB);
    view_->GetPxBitmap()->Fill(0x123456);
    const TPxRGB before = view_->GetPxBitmap()->GetPixelRGB(3, 3);
    IO()->FileParams->PSDLoadLayers = true;
    IO()->FileParams->PSDReplaceLayers = false;
    IO()->LoadFromFile(Psd(L"layers.psd"));
    ASSERT_FALSE(IO()->AbortFlag);
    ASSERT_EQ(view_->GetLayersCount(), 4);
    TPxBitmap* own = view_->GetLayer(0)->Bitmap;
    ASSERT_EQ(own->GetWidth(), 4);
    EXPECT_EQ(own->GetPixelRGB(3, 3), before);
    ExpectTransparentBase(view_->GetLayer(1));
    ExpectFileLayers(*view_, 2);
}

// Without the request the view shows the merged picture in one layer.
TEST_F(PsdLayersView, WithoutTheRequestTheMergedPictureLoads)
{
    IO()->LoadFromFile(Psd(L"layers.psd"));
    ASSERT_FALSE(IO()->AbortFlag);
    ASSERT_EQ(view_->GetLayersCount(), 1);
    classlib::TMemoryStream ref;
    ref.LoadFromFile(Psd(L"layers.rgb"));
    ASSERT_EQ(ref.GetSize(), 7 * 5 * 3);
    const auto* rgb = static_cast<const uint8_t*>(ref.GetMemory());
    TPxBitmap* b = view_->GetPxBitmap();
    ASSERT_EQ(b->GetWidth(), 7);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const uint8_t* p = rgb + 3 * (y * 7 + x);
            ASSERT_EQ(b->GetPixelRGB(x, y), (TPxRGB{p[2], p[1], p[0]})) << x << "," << y;
        }
}

// Saving a view writes every layer and the picture of them all; the file
// loads back into another view with the same layers.
TEST_F(PsdLayersView, SaveWritesEveryLayerAndTheMergedPicture)
{
    TImgView& v = *view_;
    v.GetPxBitmap()->Allocate(6, 4, px24RGB);
    v.GetPxBitmap()->Fill(0x0000FF);  // red base
    v.AddLayer();
    v.GetPxBitmap()->Allocate(2, 2, px24RGB);
    v.GetPxBitmap()->Fill(0x00FF00);  // green square at 3,1
    v.GetLayer(1)->PosX = 3;
    v.GetLayer(1)->PosY = 1;
    v.GetLayer(1)->Name = L"green";
    v.AddLayer();
    v.GetPxBitmap()->Allocate(1, 4, px24RGB);
    v.GetPxBitmap()->Fill(0xFF0000);  // blue column at 0,0
    v.GetLayer(2)->Name = L"blue";
    v.SetCurrentLayer(1);

    classlib::TMemoryStream m;
    IO()->SavePSDToStream(&m);
    ASSERT_FALSE(IO()->AbortFlag);

    TIOParamsVals p(nullptr);
    TPxPSDLayerList layers;
    TPxBitmap merged;
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    m.SetPosition(0);
    PxReadPSD(&m, &merged, p, &layers, true, info);
    ASSERT_FALSE(aborting);
    ASSERT_EQ(layers.size(), 3u);
    EXPECT_EQ(layers[0]->GetBitmap()->GetWidth(), 6);
    EXPECT_EQ(layers[0]->GetBitmap()->GetPixelRGB(5, 3), (TPxRGB{0, 0, 255}));
    EXPECT_EQ(layers[1]->PosX, 3);
    EXPECT_EQ(layers[1]->PosY, 1);
    EXPECT_EQ(layers[1]->Name, "green");
    EXPECT_EQ(layers[1]->GetBitmap()->GetPixelRGB(1, 1), (TPxRGB{0, 255, 0}));
    EXPECT_EQ(layers[2]->Name, "blue");
    EXPECT_EQ(layers[2]->GetBitmap()->GetHeight(), 4);
    EXPECT_EQ(layers[2]->GetBitmap()->GetPixelRGB(0, 3), (TPxRGB{255, 0, 0}));

    // The merged picture is the view's layers drawn together.
    m.SetPosition(0);
    merged.FreeImage(true);
    PxReadPSD(&m, &merged, p, nullptr, false, info);
    ASSERT_FALSE(aborting);
    TPxBitmap drawn;
    v.RenderLayersTo(&drawn);
    ASSERT_EQ(merged.GetWidth(), 6);
    ASSERT_EQ(merged.GetHeight(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(merged.GetPixelRGB(x, y), drawn.GetPixelRGB(x, y)) << x << "," << y;
    EXPECT_EQ(merged.GetPixelRGB(0, 2), (TPxRGB{255, 0, 0}));
    EXPECT_EQ(merged.GetPixelRGB(4, 2), (TPxRGB{0, 255, 0}));
    EXPECT_EQ(merged.GetPixelRGB(2, 0), (TPxRGB{0, 0, 255}));

    // Back into a view, through a file.
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"stack.psd");
    IO()->SaveToFile(file);
    ASSERT_FALSE(IO()->AbortFlag);
    TImgView back(nullptr);
    back.SetLegacyBitmap(false);
    back.GetIO()->FileParams->PSDLoadLayers = true;
    back.GetIO()->LoadFromFile(file);
    ASSERT_FALSE(back.GetIO()->AbortFlag);
    ASSERT_EQ(back.GetLayersCount(), 3);
    EXPECT_EQ(back.GetLayer(1)->Name, L"green");
    EXPECT_EQ(back.GetLayer(1)->PosX, 3);
    EXPECT_EQ(back.GetLayer(2)->Bitmap->GetPixelRGB(0, 1), (TPxRGB{255, 0, 0}));
}

// A document of one offset layer with alpha, loaded without a view: the
// merged picture takes the layer's alpha at the layer's place and is
// transparent around it.
TEST_F(PsdLayersView, OneLayersAlphaLandsOnTheMergedPicture)
{
    TPxBitmap merged;
    ASSERT_TRUE(merged.Allocate(6, 4, px24RGB));
    merged.Fill(0x808080);
    TPxPSDLayerList layers;
    auto layer = std::make_unique<TPxPSDLayer>();
    ASSERT_TRUE(layer->GetBitmap()->Allocate(3, 2, px24RGB));
    layer->GetBitmap()->Fill(0x808080);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            layer->GetBitmap()->GetAlphaChannel()->GetScanline(y)[x] = static_cast<uint8_t>(10 + 20 * (3 * y + x));
    layer->PosX = 2;
    layer->PosY = 1;
    layers.push_back(std::move(layer));
    classlib::TMemoryStream m;
    TIOParamsVals p(nullptr);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    PxWritePSD(&m, p, info, layers, &merged);
    ASSERT_FALSE(aborting);

    TPxBitmap b;
    auto io = TImgIO::CreateForBitmap(&b);
    m.SetPosition(0);
    io->LoadPSDFromStream(&m);
    ASSERT_FALSE(io->AbortFlag);
    ASSERT_EQ(b.GetWidth(), 6);
    ASSERT_TRUE(b.HasAlphaChannel());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            const int want = inside ? 10 + 20 * (3 * (y - 1) + (x - 2)) : 0;
            ASSERT_EQ(b.GetAlpha(x, y), want) << x << "," << y;
        }
}

}  // namespace
