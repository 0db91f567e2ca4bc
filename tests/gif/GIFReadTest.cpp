// Reading GIF files: pixels against giflib's decoder, structure, extensions,
// tolerated faults with their warnings, and refused input.
#include <gtest/gtest.h>

#include "GIFTestUtil.h"

using namespace gif;
using namespace giftest;

namespace {

struct Loaded {
    TGIFImage Image;
    WarningLog Log;
    explicit Loaded(const std::wstring& Name)
    {
        Log.Attach(Image);
        Image.LoadFromFile(Fixture(Name));
    }
};

}  // namespace

// Every valid fixture decodes to exactly what gif2rgb (giflib) decoded.
TEST(GIFRead, PixelsMatchGiflib)
{
    const wchar_t* Names[] = {L"basic87", L"bigtable", L"im_still", L"im_interlaced",
                              L"interlaced_h1", L"interlaced_h2", L"interlaced_h3", L"interlaced_h4",
                              L"interlaced_h5", L"interlaced_h6", L"interlaced_h7", L"interlaced_h8",
                              L"codesize_2", L"codesize_3", L"codesize_4", L"codesize_5",
                              L"codesize_6", L"codesize_7", L"codesize_8"};
    for (const wchar_t* Name : Names) {
        SCOPED_TRACE(testing::Message() << std::string(Name, Name + wcslen(Name)));
        Loaded L(std::wstring(Name) + L".gif");
        ASSERT_EQ(L.Image.GetImages()->GetCount(), 1);
        TGIFSubImage* f = L.Image.GetImages()->GetFrame(0);
        EXPECT_EQ(FrameRGB(f), FixtureBytes(std::wstring(Name) + L".rgb"));
        EXPECT_TRUE(L.Log.Messages.empty());
    }
}

// Minimum code sizes 1 to 11: 9 to 11 decode as 8, 1 uses 2-bit codes.
TEST(GIFRead, CodeSizesOneToEleven)
{
    for (int Size = 1; Size <= 11; ++Size) {
        SCOPED_TRACE(Size);
        const std::wstring Name = L"codesize_" + std::to_wstring(Size);
        Loaded L(Name + L".gif");
        ASSERT_EQ(L.Image.GetImages()->GetCount(), 1);
        EXPECT_EQ(FramePixels(L.Image.GetImages()->GetFrame(0)), FixtureBytes(Name + L".idx"));
    }
}

TEST(GIFRead, HeaderFieldsAndVersion)
{
    Loaded L(L"basic87.gif");
    EXPECT_EQ(L.Image.GetWidth(), 23);
    EXPECT_EQ(L.Image.GetHeight(), 17);
    EXPECT_EQ(L.Image.GetGlobalColorMap()->GetCount(), 16);
    EXPECT_EQ(L.Image.GetVersion(), 1);
    EXPECT_EQ(L.Image.GetBitsPerPixel(), 4);
    EXPECT_EQ(L.Image.GetGlobalColorMap()->GetColor(3), MakeRGB(51, 204, 159));
}

TEST(GIFRead, ExtensionsAndLocalTables)
{
    Loaded L(L"extensions.gif");
    TGIFImageList* Frames = L.Image.GetImages();
    ASSERT_EQ(Frames->GetCount(), 3);
    const std::vector<uint8_t> Idx = FixtureBytes(L"extensions.idx");

    TGIFSubImage* f0 = Frames->GetFrame(0);
    EXPECT_EQ(FramePixels(f0), std::vector<uint8_t>(Idx.begin(), Idx.begin() + 120));
    ASSERT_EQ(f0->GetExtensions()->GetCount(), 3);
    auto* Loop = dynamic_cast<TGIFAppExtNSLoop*>(f0->GetExtensions()->GetExtension(0));
    ASSERT_NE(Loop, nullptr);
    EXPECT_EQ(Loop->LoopCount, 0);
    auto* Gce = f0->GetControlExtension();
    ASSERT_NE(Gce, nullptr);
    EXPECT_EQ(Gce->GetDisposal(), 2);
    EXPECT_EQ(Gce->GetDelay(), 7);
    EXPECT_TRUE(f0->GetTransparent());
    EXPECT_EQ(Gce->GetTransparentColorIndex(), 3);
    auto* Comment = dynamic_cast<TGIFCommentExtension*>(f0->GetExtensions()->GetExtension(2));
    ASSERT_NE(Comment, nullptr);
    // A 300-byte line comes back as 255 + 45 bytes.
    ASSERT_EQ(Comment->GetText()->GetCount(), 3);
    EXPECT_EQ(Comment->GetText()->GetStrings(0).size(), 255u);
    EXPECT_EQ(Comment->GetText()->GetStrings(1).size(), 45u);
    EXPECT_EQ(Comment->GetText()->GetStrings(2), L"second");

    TGIFSubImage* f1 = Frames->GetFrame(1);
    EXPECT_EQ(FramePixels(f1), std::vector<uint8_t>(Idx.begin() + 120, Idx.end()));
    EXPECT_EQ(f1->GetLeft(), 3);
    EXPECT_EQ(f1->GetTop(), 2);
    EXPECT_EQ(f1->GetColorMap()->GetCount(), 8);
    EXPECT_EQ(f1->ActiveColorMap(), f1->GetColorMap());
    ASSERT_EQ(f1->GetExtensions()->GetCount(), 4);
    EXPECT_EQ(f1->GetControlExtension()->GetDelay(), 1);
    auto* Text = dynamic_cast<TGIFTextExtension*>(f1->GetExtensions()->GetExtension(1));
    ASSERT_NE(Text, nullptr);
    EXPECT_EQ(Text->GetText()->GetStrings(0), L"hello");
    auto* App = dynamic_cast<TGIFUnknownAppExtension*>(f1->GetExtensions()->GetExtension(2));
    ASSERT_NE(App, nullptr);
    EXPECT_EQ(App->GetIdentifier(), "XMP Data");
    ASSERT_EQ(App->GetBlocks().size(), 3u);
    EXPECT_EQ(App->GetBlocks()[1].BlockLength, 200);
    EXPECT_EQ(App->GetBlocks()[1].BlockBytes[199], 199);
    auto* Anim = dynamic_cast<TGIFAppExtNSLoop*>(f1->GetExtensions()->GetExtension(3));
    ASSERT_NE(Anim, nullptr);
    EXPECT_EQ(Anim->LoopCount, 5);

    // Extensions after the last image form a frame without pixels.
    TGIFSubImage* f2 = Frames->GetFrame(2);
    EXPECT_TRUE(f2->Empty());
    ASSERT_EQ(f2->GetExtensions()->GetCount(), 1);
    EXPECT_EQ(L.Image.GetVersion(), 2);
    EXPECT_TRUE(L.Log.Messages.empty());
}

// Faults the reader survives, each with its warnings.
TEST(GIFRead, ToleratedFaults)
{
    struct Case {
        const wchar_t* File;
        int Frames;
        std::vector<std::wstring> Warnings;
    } Cases[] = {
        {L"prefix4.gif", 1, {}},
        {L"lowercase.gif", 1, {}},
        {L"notrailer.gif", 1, {}},
        {L"zeros.gif", 1, {}},
        {L"stray.gif", 1, {L"Unknown GIF block type", L"Invalid Image trailer"}},
    };
    const std::vector<uint8_t> Expected = FixtureBytes(L"basic87.idx");
    for (const Case& c : Cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.File, c.File + wcslen(c.File)));
        Loaded L(c.File);
        ASSERT_EQ(L.Image.GetImages()->GetCount(), c.Frames);
        EXPECT_EQ(FramePixels(L.Image.GetImages()->GetFrame(0)), Expected);
        EXPECT_EQ(L.Log.Messages, c.Warnings);
    }
}

// A zero byte after an extension ends that frame's extensions: they form a
// frame without image, and the image becomes the next frame.
TEST(GIFRead, ZeroAfterExtensionSplitsTheFrame)
{
    Loaded L(L"zero_after_ext.gif");
    ASSERT_EQ(L.Image.GetImages()->GetCount(), 2);
    TGIFSubImage* f0 = L.Image.GetImages()->GetFrame(0);
    EXPECT_TRUE(f0->Empty());
    ASSERT_NE(f0->GetControlExtension(), nullptr);
    EXPECT_EQ(f0->GetControlExtension()->GetDelay(), 4);
    EXPECT_EQ(FramePixels(L.Image.GetImages()->GetFrame(1)), FixtureBytes(L"basic87.idx"));
    EXPECT_EQ(L.Log.Messages, std::vector<std::wstring>{L"Invalid extension introducer"});
}

TEST(GIFRead, TruncatedDataKeepsWhatWasRead)
{
    Loaded L(L"truncated.gif");
    ASSERT_EQ(L.Image.GetImages()->GetCount(), 1);
    EXPECT_TRUE(L.Log.Has(L"Premature end of data"));
    const std::vector<uint8_t> Got = FramePixels(L.Image.GetImages()->GetFrame(0));
    const std::vector<uint8_t> Full = FixtureBytes(L"basic87.idx");
    ASSERT_EQ(Got.size(), Full.size());
    // The decoded start matches; the rest keeps the fill value 0.
    EXPECT_TRUE(std::equal(Got.begin(), Got.begin() + 20, Full.begin()));
    EXPECT_EQ(Got.back(), 0);
}

// Input that is refused: the load raises, the stream goes back to where the
// picture began, and the frames read before the error stay.
TEST(GIFRead, RefusedInput)
{
    struct Case {
        const wchar_t* File;
        const wchar_t* Message;
    } Cases[] = {
        {L"badsig.gif", L"Invalid GIF signature"},
        {L"unknown_ext.gif", L"Unknown extension type"},
        {L"badcode.gif", L"Invalid GIF data"},
        {L"huge.gif", L"Image too large"},
    };
    for (const Case& c : Cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.File, c.File + wcslen(c.File)));
        classlib::TMemoryStream Stream;
        std::vector<uint8_t> Bytes = {1, 2, 3};
        const std::vector<uint8_t> File = FixtureBytes(c.File);
        Bytes.insert(Bytes.end(), File.begin(), File.end());
        LoadBytes(Stream, Bytes);
        Stream.SetPosition(3);
        TGIFImage Image;
        try {
            Image.LoadFromStream(&Stream);
            ADD_FAILURE() << "no exception";
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
        EXPECT_EQ(Stream.GetPosition(), 3);
        EXPECT_EQ(Image.GetImages()->GetCount(), 0);
    }
}

TEST(GIFRead, FailureAfterAFrameKeepsIt)
{
    // The basic picture followed by an extension of unknown label.
    std::vector<uint8_t> Bytes = FixtureBytes(L"basic87.gif");
    Bytes.pop_back();
    const uint8_t Bad[] = {0x21, 0x2A, 0x01, 'x', 0x00, 0x3B};
    Bytes.insert(Bytes.end(), std::begin(Bad), std::end(Bad));
    classlib::TMemoryStream Stream;
    LoadBytes(Stream, Bytes);
    TGIFImage Image;
    EXPECT_THROW(Image.LoadFromStream(&Stream), GIFException);
    EXPECT_EQ(Stream.GetPosition(), 0);
    EXPECT_EQ(Image.GetImages()->GetCount(), 1);
}

TEST(GIFRead, ZeroWidthDescriptorTakesScreenSize)
{
    std::vector<uint8_t> Bytes = FixtureBytes(L"basic87.gif");
    // Image descriptor starts after the 13-byte header and 48-byte table.
    const size_t d = 13 + 48;
    ASSERT_EQ(Bytes[d], 0x2C);
    Bytes[d + 5] = 0;
    Bytes[d + 6] = 0;
    classlib::TMemoryStream Stream;
    LoadBytes(Stream, Bytes);
    TGIFImage Image;
    WarningLog Log;
    Log.Attach(Image);
    Image.LoadFromStream(&Stream);
    ASSERT_EQ(Image.GetImages()->GetCount(), 1);
    EXPECT_EQ(Image.GetImages()->GetFrame(0)->GetWidth(), 23);
    EXPECT_TRUE(Log.Has(L"Image exceeds Logical Screen size"));
}
