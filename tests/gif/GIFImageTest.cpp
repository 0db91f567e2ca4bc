// The picture class: registration, copying, palettes, progress, clipboard.
#include <gtest/gtest.h>

#include "GIFTestUtil.h"
#include "classlib/Picture.h"

using namespace gif;
using namespace giftest;

namespace {

struct ProgressLog {
    std::vector<std::pair<classlib::TProgressStage, int>> Steps;
    std::wstring LastMessage;
    void On(classlib::TObject*, classlib::TProgressStage Stage, uint8_t Percent, bool, const RECT&,
            const std::wstring& Msg)
    {
        Steps.push_back({Stage, Percent});
        LastMessage = Msg;
    }
};

}  // namespace

TEST(GIFImage, RegisteredWithPictures)
{
    GIFStartup();
    EXPECT_EQ(classlib::TPicture::FindFileFormat(L".gif"), &TGIFImage::Class);
    EXPECT_NE(CF_GIF, 0u);
    classlib::TPicture Picture;
    Picture.LoadFromFile(Fixture(L"basic87.gif"));
    auto* Gif = dynamic_cast<TGIFImage*>(Picture.GetGraphic());
    ASSERT_NE(Gif, nullptr);
    EXPECT_EQ(Gif->GetWidth(), 23);
    GIFShutdown();
    EXPECT_EQ(classlib::TPicture::FindFileFormat(L"gif"), nullptr);
}

TEST(GIFImage, LoadReportsProgress)
{
    TGIFImage Image;
    ProgressLog Log;
    Image.OnProgress = classlib::TProgressEvent(&Log, &ProgressLog::On);
    Image.LoadFromFile(Fixture(L"gs_anim.gif"));
    ASSERT_GE(Log.Steps.size(), 5u);
    EXPECT_EQ(Log.Steps.front().first, classlib::psStarting);
    EXPECT_EQ(Log.Steps.back(), std::make_pair(classlib::psEnding, 100));
    EXPECT_EQ(Log.LastMessage, L"Loading...");
    EXPECT_EQ(Image.GetImages()->GetCount(), 3);
    EXPECT_EQ(Image.GetImages()->GetFrame(1)->GetControlExtension()->GetDelay(), 7);
    EXPECT_EQ(Image.GetImages()->GetFrame(2)->GetControlExtension()->GetDisposal(), 2);
    auto* Loop = dynamic_cast<TGIFAppExtNSLoop*>(Image.GetImages()->GetFrame(0)->GetExtensions()->GetExtension(0));
    ASSERT_NE(Loop, nullptr);
    EXPECT_EQ(Loop->LoopCount, 3);
}

TEST(GIFImage, AssignCopiesFramesAndDropsHandlers)
{
    TGIFImage Source;
    WarningLog Log;
    Log.Attach(Source);
    ProgressLog Progress;
    Source.OnProgress = classlib::TProgressEvent(&Progress, &ProgressLog::On);
    Source.LoadFromFile(Fixture(L"extensions.gif"));
    Source.DrawFlags = gdfAnimate;
    Source.StillFrame = 1;
    TGIFImage Copy;
    Copy.Assign(&Source);
    EXPECT_FALSE(Copy.OnGIFWarning);
    EXPECT_FALSE(Copy.OnProgress);
    EXPECT_EQ(Copy.DrawFlags, gdfAnimate);
    EXPECT_EQ(Copy.StillFrame, 1);
    ASSERT_EQ(Copy.GetImages()->GetCount(), 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(FramePixels(Copy.GetImages()->GetFrame(i)), FramePixels(Source.GetImages()->GetFrame(i)));
        EXPECT_EQ(Copy.GetImages()->GetFrame(i)->GetExtensions()->GetCount(),
                  Source.GetImages()->GetFrame(i)->GetExtensions()->GetCount());
    }
    // A frame without pixels is copied empty, its extensions included.
    EXPECT_EQ(Copy.GetImages()->GetFrame(2)->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(Copy.GetImages()->GetFrame(0)->GetControlExtension()->GetTransparentColorIndex(), 3);
    EXPECT_EQ(Copy.GetWidth(), 12);
    Copy.Assign(nullptr);
    EXPECT_TRUE(Copy.GetEmpty());
    EXPECT_THROW(Copy.Add(new classlib::TStringList), GIFException);
}

TEST(GIFImage, PaletteRules)
{
    TGIFImage Image;
    Image.DrawFlags = 0;
    EXPECT_EQ(Image.GetPalette(), nullptr);
    AddFrame(Image, 0, 0, 2, 2, {0, 0, 0, 0});
    try {
        Image.GetPalette();
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), L"No global or local color table defined");
    }
    SetGlobal(Image, {{1, 2, 3}, {4, 5, 6}});
    HPALETTE p = Image.GetPalette();
    ASSERT_NE(p, nullptr);
    PALETTEENTRY e[2];
    ASSERT_EQ(::GetPaletteEntries(p, 0, 2, e), 2u);
    EXPECT_EQ(e[1].peGreen, 5);
    EXPECT_EQ(e[1].peFlags, PC_NOCOLLAPSE);
    EXPECT_EQ(Image.GetPalette(), p);  // cached
    Image.GetGlobalColorMap()->SetColor(0, 0);
    EXPECT_NE(Image.GetPalette(), nullptr);
    // A frame with its own table has its own palette.
    TGIFSubImage* f = AddFrame(Image, 0, 0, 1, 1, {1}, {{9, 9, 9}, {8, 8, 8}});
    ASSERT_EQ(::GetPaletteEntries(f->GetPalette(), 0, 2, e), 2u);
    EXPECT_EQ(e[0].peRed, 9);
    EXPECT_THROW(f->Pixels(1, 0), GIFException);
    EXPECT_THROW(f->Scanline(-1), GIFException);
}

TEST(GIFImage, BitmapOfThePicture)
{
    TGIFImage Image;
    Image.LoadFromFile(Fixture(L"basic87.gif"));
    classlib::TBitmap Bitmap;
    Bitmap.Assign(&Image);
    ASSERT_EQ(Bitmap.GetWidth(), 23);
    const std::vector<uint8_t> Rgb = FixtureBytes(L"basic87.rgb");
    for (int y : {0, 8, 16})
        for (int x : {0, 11, 22}) {
            const size_t i = (static_cast<size_t>(y) * 23 + x) * 3;
            EXPECT_EQ(static_cast<uint32_t>(Bitmap.GetCanvas()->GetPixel(x, y)), MakeRGB(Rgb[i], Rgb[i + 1], Rgb[i + 2]));
        }
}

TEST(GIFImage, ClipboardRoundTrip)
{
    GIFStartup();
    TGIFImage Image;
    Image.LoadFromFile(Fixture(L"extensions.gif"));
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    UINT Format = 0;
    HANDLE Data = nullptr;
    HPALETTE Palette = nullptr;
    Image.SaveToClipboardFormat(Format, Data, Palette);
    EXPECT_EQ(Format, static_cast<UINT>(CF_BITMAP));
    if (Data)
        ::SetClipboardData(Format, Data);
    if (Palette)
        ::DeleteObject(Palette);
    TGIFImage Back;
    Back.LoadFromClipboardFormat(CF_GIF, nullptr, nullptr);
    ::CloseClipboard();
    ASSERT_EQ(Back.GetImages()->GetCount(), 3);
    EXPECT_EQ(FramePixels(Back.GetImages()->GetFrame(1)), FramePixels(Image.GetImages()->GetFrame(1)));
    EXPECT_THROW(Back.LoadFromClipboardFormat(CF_TEXT, nullptr, nullptr), GIFException);
    GIFShutdown();
}
