#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "classlib/Picture.h"
#include "classlib/Streams.h"

using namespace classlib;

namespace {

// A picture class that records what it was asked to do.
class TTestGraphic : public TGraphic {
public:
    static const TGraphicClass Class;
    static int loads;
    const TGraphicClass* GetGraphicClass() const override { return &Class; }
    std::wstring ClassName() const override { return L"TTestGraphic"; }
    bool GetEmpty() const override { return size == 0; }
    int GetWidth() const override { return size; }
    int GetHeight() const override { return size; }
    void SetWidth(int v) override { size = v; }
    void SetHeight(int v) override { size = v; }
    void Draw(TCanvas* c, const RECT& r) override
    {
        c->GetBrush()->SetColor(clRed);
        c->FillRect(r);
    }
    void LoadFromStream(TStream* s) override
    {
        ++loads;
        uint8_t b = 0;
        s->ReadBuffer(&b, 1);
        size = b;
        Changed(this);
    }
    void SaveToStream(TStream* s) override
    {
        uint8_t b = static_cast<uint8_t>(size);
        s->WriteBuffer(&b, 1);
    }
    void LoadFromClipboardFormat(UINT, HANDLE, HPALETTE) override {}
    void SaveToClipboardFormat(UINT&, HANDLE&, HPALETTE&) override {}
    void Assign(const TPersistent* src) override
    {
        if (auto* t = dynamic_cast<const TTestGraphic*>(src)) {
            size = t->size;
            Changed(this);
            return;
        }
        TGraphic::Assign(src);
    }
    int size = 0;
};
const TGraphicClass TTestGraphic::Class = {L"TTestGraphic", []() -> TGraphic* { return new TTestGraphic; }};
int TTestGraphic::loads = 0;

struct Counter : TObject {
    int hits = 0;
    void On(TObject*) { ++hits; }
};

TEST(Picture, RegistryPicksTheClassByExtension)
{
    testsupport::TempDir dir;
    {
        TFileStream f(dir.File(L"x.tst"), fmCreate);
        uint8_t b = 7;
        f.WriteBuffer(&b, 1);
    }
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    bmp.SaveToFile(dir.File(L"y.BMP"));

    EXPECT_EQ(TPicture::FindFileFormat(L"bmp"), &TBitmap::Class);
    EXPECT_EQ(TPicture::FindFileFormat(L".tst"), nullptr);
    TPicture::RegisterFileFormat(L"TST", L"Test pictures", &TTestGraphic::Class);
    TPicture::RegisterClipboardFormat(0xC123, &TTestGraphic::Class);
    auto formats = TPicture::GetFileFormats();
    ASSERT_GE(formats.size(), 2u);
    EXPECT_EQ(formats.front().Extension, L"bmp");
    EXPECT_EQ(formats.back().Extension, L"tst");
    EXPECT_EQ(formats.back().Description, L"Test pictures");
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(0xC123));

    TPicture pic;
    Counter changes;
    pic.OnChange = TNotifyEvent(&changes, &Counter::On);
    pic.LoadFromFile(dir.File(L"x.tst"));
    ASSERT_NE(dynamic_cast<TTestGraphic*>(pic.GetGraphic()), nullptr);
    EXPECT_EQ(pic.GetWidth(), 7);
    EXPECT_EQ(TTestGraphic::loads, 1);
    EXPECT_GE(changes.hits, 1);

    pic.LoadFromFile(dir.File(L"y.BMP"));
    ASSERT_NE(dynamic_cast<TBitmap*>(pic.GetGraphic()), nullptr);
    EXPECT_EQ(pic.GetWidth(), 3);
    EXPECT_EQ(pic.GetHeight(), 2);

    TPicture::UnregisterGraphicClass(&TTestGraphic::Class);
    EXPECT_FALSE(TPicture::SupportsClipboardFormat(0xC123));
    try {
        pic.LoadFromFile(dir.File(L"x.tst"));
        FAIL() << "loaded an unregistered extension";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), L"Unknown picture file extension (.tst)");
    }
    EXPECT_NE(dynamic_cast<TBitmap*>(pic.GetGraphic()), nullptr);  // unchanged by the failure
}

TEST(Picture, GraphicBitmapAndAssign)
{
    TPicture pic;
    EXPECT_EQ(pic.GetGraphic(), nullptr);
    EXPECT_EQ(pic.GetWidth(), 0);
    TTestGraphic g;
    g.size = 4;
    pic.SetGraphic(&g);
    ASSERT_NE(pic.GetGraphic(), &g);  // a copy of the caller's picture
    EXPECT_EQ(pic.GetWidth(), 4);

    Counter changes;
    pic.OnChange = TNotifyEvent(&changes, &Counter::On);
    pic.GetGraphic()->SetWidth(5);
    pic.GetGraphic()->SetModified(true);
    EXPECT_EQ(changes.hits, 1);  // the held picture's changes reach the picture

    TBitmap* b = pic.GetBitmap();  // replaces a non-bitmap picture
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->GetEmpty());
    EXPECT_EQ(pic.GetGraphic(), b);
    b->SetSize(6, 2);
    EXPECT_EQ(pic.GetBitmap(), b);

    TPicture other;
    other.Assign(&pic);
    ASSERT_NE(other.GetGraphic(), nullptr);
    EXPECT_NE(other.GetGraphic(), pic.GetGraphic());
    EXPECT_EQ(other.GetWidth(), 6);
    TBitmap fromPicture;
    fromPicture.Assign(&other);  // a picture assigns its graphic
    EXPECT_EQ(fromPicture.GetWidth(), 6);

    // Any picture assigned to a bitmap is drawn on it.
    TBitmap drawn;
    TTestGraphic red;
    red.size = 3;
    drawn.Assign(&red);
    EXPECT_EQ(drawn.GetWidth(), 3);
    EXPECT_EQ(drawn.GetCanvas()->GetPixel(2, 2), clRed);

    other.Assign(nullptr);
    EXPECT_EQ(other.GetGraphic(), nullptr);
}

}  // namespace
