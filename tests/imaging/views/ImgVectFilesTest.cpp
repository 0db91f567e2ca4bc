// Layer, vector-object and combined files loaded through the I/O object:
// into an attached view that holds such data, or drawn flat into the image
// of any other attachment; damaged files fail the load and leave the view.
#include <gtest/gtest.h>

#include <memory>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/vector/ImgVect.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

class ViewDataFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        // A red box of 40 x 30 and a layered image: two layers of 50 x 40.
        TImgVect maker(nullptr);
        maker.SetLegacyBitmap(false);
        maker.GetPxBitmap()->Allocate(50, 40, px24RGB);
        maker.GetPxBitmap()->Fill(0x00FF00);
        TPxVectObject o = *maker.ObjectRecord(-1);
        o.Kind = pxvoBox;
        o.Left = 0;
        o.Top = 0;
        o.Right = 39;
        o.Bottom = 29;
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x0000FF;
        o.PenColor = 0x0000FF;
        maker.AddObject(o);
        maker.AddLayer();
        maker.GetLayer(1)->PosX = 5;
        Save(maker, pxv, [&](classlib::TStream* S) { maker.SaveToStreamPxV(S); });
        Save(maker, lyr, [&](classlib::TStream* S) { maker.LayersSaveToStream(S, -1); });
        Save(maker, all, [&](classlib::TStream* S) { maker.SaveToStreamAll(S, -1); });
    }
    template <class F>
    void Save(TImgVect&, std::wstring& Name, F&& Write)
    {
        Name = dir.File(L"f" + std::to_wstring(++n_) + L".bin");
        classlib::TFileStream f(Name, classlib::fmCreate);
        Write(&f);
    }
    testsupport::TempDir dir;
    std::wstring pxv, lyr, all;

private:
    int n_ = 0;
};

TEST_F(ViewDataFiles, IntoAnAttachedView)
{
    TImgVect view(nullptr);
    view.SetLegacyBitmap(false);
    TImgIO* io = view.GetIO();
    io->LoadFromFileFormat(pxv, ffPXV);
    EXPECT_FALSE(io->AbortFlag);
    ASSERT_EQ(view.GetObjectsCount(), 1);
    // The image becomes a white canvas of the objects' extent, transparent.
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 40);
    EXPECT_EQ(view.GetPxBitmap()->GetHeight(), 30);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(5, 5).g, 255);
    ASSERT_NE(view.GetAlphaChannel(), nullptr);
    EXPECT_EQ(view.GetAlphaChannel()->GetPixelGray8(5, 5), 0);
    io->LoadFromFileFormat(all, ffALL);
    EXPECT_FALSE(io->AbortFlag);
    EXPECT_EQ(view.GetLayersCount(), 2);
    EXPECT_EQ(view.GetLayer(1)->PosX, 5);
    EXPECT_EQ(view.GetObjectsCount(), 1);
    // A plain image view reads layer files.
    TImgView plain(nullptr);
    plain.SetLegacyBitmap(false);
    plain.GetIO()->LoadFromFileFormat(lyr, ffLYR);
    EXPECT_FALSE(plain.GetIO()->AbortFlag);
    EXPECT_EQ(plain.GetLayersCount(), 2);
    EXPECT_EQ(plain.GetIO()->FileParams->FileFormat, ffLYR);
}

TEST_F(ViewDataFiles, DrawnFlatWithoutASuitableView)
{
    TImgIO io(nullptr);
    io.LoadFromFileFormat(pxv, ffPXV);
    ASSERT_FALSE(io.AbortFlag);
    TPxBitmap* b = io.GetCurrentBitmap();
    EXPECT_EQ(b->GetWidth(), 40);
    EXPECT_EQ(b->GetHeight(), 30);
    EXPECT_EQ(b->GetPixelAsRGB(20, 15).r, 255);  // the red box drawn in
    EXPECT_EQ(b->GetPixelAsRGB(20, 15).g, 0);
    io.LoadFromFileFormat(all, ffALL);
    ASSERT_FALSE(io.AbortFlag);
    // Layer 1 stands 5 pixels right of layer 0: the flat image covers both.
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 55);
    EXPECT_EQ(io.GetCurrentBitmap()->GetPixelAsRGB(20, 15).r, 255);
    EXPECT_EQ(io.GetCurrentBitmap()->GetPixelAsRGB(2, 35).g, 255);  // layer 0's green left of layer 1
    io.LoadFromFileFormat(lyr, ffLYR);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 55);
}

TEST_F(ViewDataFiles, DamagedFilesFailTheLoadAndKeepTheView)
{
    std::string data;
    {
        classlib::TFileStream f(pxv, classlib::fmOpenRead);
        data.resize(static_cast<size_t>(f.GetSize()));
        f.ReadBuffer(data.data(), f.GetSize());
    }
    const std::wstring cut = dir.File(L"cut.pxv");
    {
        classlib::TFileStream f(cut, classlib::fmCreate);
        f.WriteBuffer(data.data(), static_cast<int64_t>(data.size() / 2));
    }
    TImgVect view(nullptr);
    view.SetLegacyBitmap(false);
    view.GetIO()->LoadFromFileFormat(pxv, ffPXV);
    ASSERT_EQ(view.GetObjectsCount(), 1);
    view.GetIO()->LoadFromFileFormat(cut, ffPXV);
    EXPECT_TRUE(view.GetIO()->AbortFlag);
    EXPECT_EQ(view.GetObjectsCount(), 1);
    TImgIO io(nullptr);
    io.LoadFromFileFormat(cut, ffPXV);
    EXPECT_TRUE(io.AbortFlag);
    // Streams: only a view that holds the data reads it.
    classlib::TMemoryStream s;
    s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    s.SetPosition(0);
    TImgVect other(nullptr);
    other.GetIO()->LoadViewDataFromStream(&s, ffPXV);
    EXPECT_FALSE(other.GetIO()->AbortFlag);
    EXPECT_EQ(other.GetObjectsCount(), 1);
}

}  // namespace
