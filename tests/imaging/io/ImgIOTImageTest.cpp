// The I/O object attached to a TImage: loads fill and repaint the image's
// picture, saves write it, and the attachment ends cleanly.
#include <windows.h>

#include <memory>

#include <gtest/gtest.h>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Icon.h"
#include "support/HostWindow.h"
#include "support/TestSupport.h"
#include "ImgIOTestSupport.h"

using namespace imaging;
using namespace imgiotest;

namespace {

using testsupport::PumpMessages;

// A file in the raw test format holding Pattern(w, h): pixel (x, y) has
// red x, green y and blue x + y.
void WriteRawFile(const std::wstring& name, int w, int h)
{
    auto b = Pattern(w, h);
    TIOParamsVals p(nullptr);
    p.DpiX = 72;
    p.DpiY = 72;
    bool abort = false;
    TPxIOProgressInfo info;
    info.Aborting = &abort;
    classlib::TFileStream f(name, classlib::fmCreate);
    WriteRaw(&f, b.get(), p, info);
}

// A white window control in a visible top-level window, with a TImage at
// its top-left.
class TShownImage {
public:
    explicit TShownImage(classlib::TImage* image) : image_(image)
    {
        top_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 120, 80, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        // Shown without activation: under a display without a window manager an
        // activated top-level window takes seconds to hide.
        ::ShowWindow(top_, SW_SHOWNOACTIVATE);
        panel_.SetParentWindow(top_);
        panel_.SetBounds(0, 0, 120, 80);
        panel_.SetColor(classlib::clWhite);
        image_->SetBounds(0, 0, 60, 40);
        image_->SetParent(&panel_);
        panel_.HandleNeeded();
        PumpMessages();
    }
    ~TShownImage()
    {
        image_->SetParent(nullptr);
        panel_.DestroyHandle();
        DestroyWindow(top_);
    }
    COLORREF At(int x, int y)
    {
        UpdateWindow(panel_.GetHandle());
        PumpMessages();
        classlib::TWindowDC dc(panel_.GetHandle());
        return GetPixel(dc.Get(), x, y);
    }

private:
    classlib::TImage* image_;
    classlib::TWinControl panel_{nullptr};
    HWND top_ = nullptr;
};

}  // namespace

TEST(ImgIOTImage, LoadFillsThePictureAndTheImageRepaints)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    std::wstring file = dir.File(L"a.bmp");
    WriteRawFile(file, 5, 4);

    classlib::TImage image(nullptr);
    TShownImage shown(&image);
    TFakeView view;
    TPxBitmap mine;
    TImgIO io(nullptr);
    io.SetAttachedImg(&view);
    io.SetAttachedTImage(&image);
    // The view is detached; the object mirrors the picture's bitmap in an own
    // image (the caller's and the view's images are never written).
    EXPECT_EQ(io.GetAttachedTImage(), &image);
    EXPECT_EQ(io.GetAttachedImg(), nullptr);
    EXPECT_EQ(view.Registrations(), 0);
    EXPECT_TRUE(io.GetOwnsBitmap());
    EXPECT_NE(io.GetCurrentBitmap(), view.GetPxBitmap());
    EXPECT_EQ(io.GetTBitmap(), image.GetPicture()->GetBitmap());
    EXPECT_EQ(shown.At(3, 2), RGB(255, 255, 255));

    io.LoadFromFile(file);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(image.GetPicture()->GetWidth(), 5);
    EXPECT_EQ(image.GetPicture()->GetHeight(), 4);
    // The image shows the loaded pixels without being told.
    EXPECT_EQ(shown.At(3, 2), RGB(3, 2, 5));
    EXPECT_EQ(shown.At(4, 3), RGB(4, 3, 7));
    EXPECT_EQ(shown.At(5, 3), RGB(255, 255, 255));
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 0);
}

TEST(ImgIOTImage, SaveWritesThePictureItHoldsNow)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    classlib::TImage image(nullptr);
    TImgIO io(nullptr);
    io.SetAttachedTImage(&image);

    // The picture is given a new graphic after the attachment (the bitmap the
    // object first saw is freed): the save follows the picture.
    classlib::TBitmap green;
    green.SetPixelFormat(classlib::pf24bit);
    green.SetSize(6, 3);
    green.GetCanvas()->GetBrush()->SetColor(classlib::clLime);
    green.GetCanvas()->FillRect(RECT{0, 0, 6, 3});
    image.GetPicture()->Assign(&green);
    image.GetCanvas()->SetPixel(5, 2, classlib::clBlue);
    std::wstring file = dir.File(L"out.bmp");
    io.SaveToFile(file);
    EXPECT_FALSE(io.AbortFlag);

    TPxBitmap back;
    auto reader = TImgIO::CreateForBitmap(&back);
    reader->LoadFromFile(file);
    ASSERT_FALSE(reader->AbortFlag);
    ASSERT_EQ(back.GetWidth(), 6);
    ASSERT_EQ(back.GetHeight(), 3);
    EXPECT_EQ(back.GetPixelRGB(0, 0), (TPxRGB{0, 255, 0}));
    EXPECT_EQ(back.GetPixelRGB(5, 2), (TPxRGB{255, 0, 0}));
}

TEST(ImgIOTImage, PictureGivenAnotherGraphicIsLeftAlone)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"in.raw");
    WriteRawFile(file, 5, 4);
    classlib::TImage image(nullptr);
    TImgIO io(nullptr);
    io.SetAttachedTImage(&image);

    // The picture now holds an icon: a load goes to the object's own image
    // and does not replace the icon with a bitmap.
    classlib::TIcon icon;
    icon.SetHandle(::LoadIconW(nullptr, IDI_APPLICATION));
    image.GetPicture()->SetGraphic(&icon);
    io.LoadFromFileFormat(file, ffBMP);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 5);
    EXPECT_NE(dynamic_cast<classlib::TIcon*>(image.GetPicture()->GetGraphic()), nullptr);
    EXPECT_EQ(io.GetAttachedVclBitmap(), nullptr);
}

TEST(ImgIOTImage, FreeingTheImageEndsTheAttachment)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    std::wstring file = dir.File(L"a.bmp");
    WriteRawFile(file, 5, 4);

    // Owned by the I/O object's owner (the owner's notification) or by
    // nobody (a free notification link).
    for (bool sameOwner : {true, false}) {
        SCOPED_TRACE(sameOwner ? "same owner" : "no owner");
        classlib::TComponent owner(nullptr);
        auto* io = new TImgIO(&owner);
        auto* image = new classlib::TImage(sameOwner ? &owner : nullptr);
        io->SetAttachedTImage(image);
        io->LoadFromFile(file);
        ASSERT_EQ(image->GetPicture()->GetWidth(), 5);

        delete image;
        EXPECT_EQ(io->GetAttachedTImage(), nullptr);
        EXPECT_EQ(io->GetTBitmap(), nullptr);
        // Loads and saves go on with the own image.
        io->LoadFromFile(file);
        EXPECT_FALSE(io->AbortFlag);
        EXPECT_EQ(io->GetCurrentBitmap()->GetWidth(), 5);
        io->SaveToFile(dir.File(L"b.bmp"));
        EXPECT_FALSE(io->AbortFlag);
    }
}

TEST(ImgIOTImage, NilAndOtherHoldersDetach)
{
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    std::wstring file = dir.File(L"a.bmp");
    WriteRawFile(file, 5, 4);
    classlib::TImage image(nullptr);
    TImgIO io(nullptr);
    io.SetAttachedTImage(&image);
    io.LoadFromFile(file);

    // Nil for a TBitmap or a TPxBitmap leaves the TImage attached.
    io.SetAttachedTBitmap(nullptr);
    io.SetAttachedPxBitmap(nullptr);
    EXPECT_EQ(io.GetAttachedTImage(), &image);
    EXPECT_EQ(io.GetTBitmap(), image.GetPicture()->GetBitmap());

    // Nil empties the image and detaches: a later load leaves the picture.
    io.SetAttachedTImage(nullptr);
    EXPECT_EQ(io.GetAttachedTImage(), nullptr);
    EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());
    WriteRawFile(file, 2, 2);
    io.LoadFromFile(file);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 2);
    EXPECT_EQ(image.GetPicture()->GetWidth(), 5);

    // A caller's bitmap detaches the TImage too; clearing the TImage then
    // does not touch the caller's image.
    TPxBitmap mine(3, 3, px24RGB);
    io.SetAttachedTImage(&image);
    io.SetAttachedPxBitmap(&mine);
    EXPECT_EQ(io.GetAttachedTImage(), nullptr);
    EXPECT_EQ(io.GetCurrentBitmap(), &mine);
    io.SetAttachedTImage(nullptr);
    EXPECT_EQ(mine.GetWidth(), 3);
}
