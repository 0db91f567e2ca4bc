// The layers stream's image coding (a format that writes nothing falls back
// to raw dumps instead of promising images) and its bounds against damaged
// counts, lengths and offsets.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/view/ImgView.h"

using namespace imaging;

namespace {

class LayersCoding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        view = std::make_unique<TImgView>(nullptr);
        view->SetLegacyBitmap(false);
        view->GetPxBitmap()->Allocate(12, 9, px24RGB);
        view->GetPxBitmap()->Fill(0x204060);
        view->AddLayer();
        view->GetPxBitmap()->Fill(0x806040);
        view->GetLayer(1)->PosX = 3;
    }
    int32_t HeaderCoding(classlib::TMemoryStream& S)
    {
        int32_t c = 0;
        std::memcpy(&c, static_cast<const uint8_t*>(S.GetMemory()) + 17, 4);
        return c;
    }
    std::unique_ptr<TImgView> view;
};

TEST_F(LayersCoding, AFormatThatWritesNothingFallsBackToRawImages)
{
    const TPxRGB want = view->GetLayerBitmap(1)->GetPixelRGB(4, 4);
    struct Case {
        int32_t Coding, Header;
    } cases[] = {{8, 8}, {1, 8}, {26, -1}, {-2, -2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Coding);
        classlib::TMemoryStream s;
        view->LayersSaveToStream(&s, c.Coding);
        EXPECT_EQ(HeaderCoding(s), c.Header);
        s.SetPosition(0);
        TImgView back(nullptr);
        back.SetLegacyBitmap(false);
        ASSERT_TRUE(back.LayersLoadFromStream(&s));
        ASSERT_EQ(back.GetLayersCount(), 2);
        EXPECT_EQ(back.GetLayer(1)->PosX, 3);
        EXPECT_EQ(back.GetLayerBitmap(1)->GetWidth(), 12);
        const TPxRGB got = back.GetLayerBitmap(1)->GetPixelRGB(4, 4);
        EXPECT_EQ(got.r, want.r);
        EXPECT_EQ(got.b, want.b);
    }
}

TEST_F(LayersCoding, DamagedCountsAndOffsetsAreRefused)
{
    classlib::TMemoryStream good;
    view->LayersSaveToStream(&good, -1);
    const std::string whole(static_cast<const char*>(good.GetMemory()), static_cast<size_t>(good.GetSize()));
    auto patched = [&](size_t At, int32_t V) {
        std::string d = whole;
        std::memcpy(d.data() + At, &V, 4);
        return d;
    };
    // Offsets of layer 0's fields: the name count at 25 + 35, the offset
    // field at 25 + 53.
    const std::string cases[] = {
        patched(21, 0x7FFFFFFF),             // layer count
        patched(21, -1),
        patched(25 + 35, 0x7FFFFFF0),        // name length
        patched(25 + 53, 0x7FFFFFF0),        // image offset past the end
        whole.substr(0, 40),                 // cut in the first block
        whole.substr(0, whole.size() - 10),  // cut in the last image
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        classlib::TMemoryStream s;
        s.WriteBuffer(cases[i].data(), static_cast<int64_t>(cases[i].size()));
        s.SetPosition(0);
        TImgView target(nullptr);
        EXPECT_ANY_THROW(target.LayersLoadFromStream(&s)) << i;
    }
}

}  // namespace
