// Writing GIF files: encoders checked against giflib, the writing rules of
// header, tables and frames, round trips, and recolouring.
#include <gtest/gtest.h>

#include <cstdlib>

#include "GIFTestUtil.h"
#include "gif/GIFEncoders.h"
#include "gif/GIFLZWDecoder.h"

using namespace gif;
using namespace giftest;

namespace {

std::vector<uint8_t> Save(TGIFImage& Image)
{
    classlib::TMemoryStream Stream;
    Image.SaveToStream(&Stream);
    return StreamBytes(Stream);
}

void Load(TGIFImage& Image, const std::vector<uint8_t>& Bytes)
{
    classlib::TMemoryStream Stream;
    LoadBytes(Stream, Bytes);
    Image.LoadFromStream(&Stream);
}

// A one-frame picture with the given global table and pixels.
void MakePicture(TGIFImage& Image, int W, int H, const std::vector<TGIFColor>& Table,
                 const std::vector<uint8_t>& Pixels, bool Interlaced = false)
{
    Image.GetGlobalColorMap()->ImportRGB(Table.data(), static_cast<int>(Table.size()));
    auto* Frame = new TGIFSubImage(&Image);
    Frame->SetPlacement(0, 0, W, H);
    std::copy(Pixels.begin(), Pixels.end(), Frame->GetData());
    Frame->SetInterlaced(Interlaced);
    Image.Add(Frame);
}

std::vector<TGIFColor> BigTablePalette()
{
    std::vector<TGIFColor> p;
    for (int i = 0; i < 256; ++i)
        p.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>((i * 7) % 256), static_cast<uint8_t>(255 - i)});
    return p;
}

std::vector<uint8_t> ToRGB(const std::vector<uint8_t>& Pixels, const std::vector<TGIFColor>& Table)
{
    std::vector<uint8_t> Out;
    for (uint8_t i : Pixels) {
        Out.push_back(Table[i].Red);
        Out.push_back(Table[i].Green);
        Out.push_back(Table[i].Blue);
    }
    return Out;
}

}  // namespace

// The encoders' output is committed (enc_*.gif) together with giflib's
// decode of it (enc_*.rgb, made by make_fixtures.py). Encoding the same
// pixels again must give the same bytes, so giflib's check stays valid.
// With VELMO_GIF_WRITE_FIXTURES set the outputs are written instead.
TEST(GIFWrite, EncodersMatchGiflibCheckedOutput)
{
    const std::vector<uint8_t> Big = FixtureBytes(L"bigtable.idx");
    std::vector<uint8_t> Small;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            Small.push_back(static_cast<uint8_t>((x + 2 * y) % 4));
    struct Case {
        const wchar_t* Name;
        uint8_t Encoder;
        int W, H;
        bool Interlaced;
    } Cases[] = {
        {L"enc_lzw", gpeLZW, 200, 120, false},
        {L"enc_rle", gpeRLE, 200, 120, false},
        {L"enc_interlaced", gpeLZW, 7, 3, true},
        {L"enc_rle_interlaced", gpeRLE, 7, 3, true},
    };
    const bool Write = std::getenv("VELMO_GIF_WRITE_FIXTURES") != nullptr;
    for (const Case& c : Cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.Name, c.Name + wcslen(c.Name)));
        const std::vector<uint8_t>& Pixels = c.W == 200 ? Big : Small;
        std::vector<TGIFColor> Table = BigTablePalette();
        if (c.W != 200)
            Table.resize(4);
        TGIFImage Image;
        Image.PixelEncoder = c.Encoder;
        MakePicture(Image, c.W, c.H, Table, Pixels, c.Interlaced);
        const std::vector<uint8_t> Bytes = Save(Image);
        const std::wstring File = Fixture(std::wstring(c.Name) + L".gif");
        if (Write) {
            classlib::TFileStream f(File, classlib::fmCreate);
            f.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
            continue;
        }
        EXPECT_EQ(Bytes, FixtureBytes(std::wstring(c.Name) + L".gif"));
        EXPECT_EQ(FixtureBytes(std::wstring(c.Name) + L".rgb"), ToRGB(Pixels, Table));
        TGIFImage Back;
        Load(Back, Bytes);
        ASSERT_EQ(Back.GetImages()->GetCount(), 1);
        EXPECT_EQ(FramePixels(Back.GetImages()->GetFrame(0)), Pixels);
        EXPECT_EQ(Back.GetImages()->GetFrame(0)->GetInterlaced(), c.Interlaced);
    }
}

// Run-length output decodes to the same pixels as LZW output, for runs of
// every length and all root sizes.
TEST(GIFWrite, RunLengthAndLZWDecodeAlike)
{
    for (int Bits : {1, 2, 3, 4, 8}) {
        SCOPED_TRACE(Bits);
        const int Colors = 1 << Bits;
        std::vector<uint8_t> Pixels;
        int Run = 1;
        while (Pixels.size() < 60000) {
            Pixels.insert(Pixels.end(), static_cast<size_t>(Run), static_cast<uint8_t>(Run % Colors));
            Run = Run * 7 % 4099 + 1;
        }
        const int W = 300, H = static_cast<int>(Pixels.size()) / W;
        Pixels.resize(static_cast<size_t>(W) * H);
        for (uint8_t Encoder : {gpeLZW, gpeRLE}) {
            classlib::TMemoryStream Stream;
            std::unique_ptr<TGIFEncoder> e;
            if (Encoder == gpeRLE)
                e = std::make_unique<TRLEEncoder>();
            else
                e = std::make_unique<TLZWEncoder>();
            e->Encode(&Stream, Bits, Colors, Pixels.data(), false, H, W);
            Stream.SetPosition(0);
            std::vector<uint8_t> Out(Pixels.size(), 0xEE);
            std::vector<std::wstring> Warnings;
            DecodeLZWPixels(&Stream, Out.data(), W, H, false,
                            [&](const std::wstring& m) { Warnings.push_back(m); });
            EXPECT_EQ(Out, Pixels) << "encoder " << int(Encoder);
            EXPECT_EQ(Stream.GetPosition(), Stream.GetSize());
            EXPECT_TRUE(Warnings.empty());
        }
    }
}

TEST(GIFWrite, SmallestFrames)
{
    // A 1-pixel frame: clear code, the pixel, the end code in one sub-block.
    classlib::TMemoryStream Stream;
    const uint8_t Pixel = 1;
    TLZWEncoder e;
    e.Encode(&Stream, 1, 2, &Pixel, false, 1, 1);
    // Code size 2 (never 1): codes 4, 1, 5 of 3 bits = 0b101'001'100.
    EXPECT_EQ(StreamBytes(Stream), (std::vector<uint8_t>{2, 2, 0x4C, 0x01, 0}));
    // A pixel equal to the colour count is refused.
    classlib::TMemoryStream Bad;
    const uint8_t Pixels[2] = {0, 2};
    TLZWEncoder e2;
    try {
        e2.Encode(&Bad, 1, 2, Pixels, false, 1, 2);
        ADD_FAILURE();
    } catch (const GIFException& x) {
        EXPECT_EQ(x.Message(), L"Color not in color table");
    }
}

TEST(GIFWrite, ColorTableRules)
{
    TGIFImage Image;
    TGIFColorMap* Map = Image.GetGlobalColorMap();
    Map->Add(MakeRGB(1, 2, 3));
    Map->Add(MakeRGB(4, 5, 6));
    Map->Add(MakeRGB(7, 8, 9));
    classlib::TMemoryStream Stream;
    Map->SaveToStream(&Stream);
    EXPECT_EQ(StreamBytes(Stream), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
    Map->Delete(2);
    Map->Delete(1);
    Stream.Clear();
    Map->SaveToStream(&Stream);
    EXPECT_EQ(StreamBytes(Stream), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0}));
    for (int i = 1; i < 256; ++i)
        Map->Add(MakeRGB(static_cast<uint8_t>(i), 0, 0));
    EXPECT_THROW(Map->Add(0), GIFException);
    EXPECT_EQ(Map->GetCount(), 256);
    EXPECT_THROW(Map->SetColor(256, 0), GIFException);
    EXPECT_EQ(Map->FindColor(MakeRGB(200, 0, 0)), 200);
}

TEST(GIFWrite, HeaderFrameAndVersionRules)
{
    TGIFImage Empty;
    try {
        Save(Empty);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), L"Unsupported GIF version");
    }

    TGIFImage Image;
    std::vector<TGIFColor> Four = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    MakePicture(Image, 4, 3, Four, std::vector<uint8_t>(12, 1), true);
    // A second frame with a 256-entry local table, marked interlaced.
    auto* Local = new TGIFSubImage(&Image);
    Local->SetPlacement(0, 0, 2, 2);
    std::vector<TGIFColor> Many(256, TGIFColor{9, 9, 9});
    Local->GetColorMap()->ImportRGB(Many.data(), 256);
    Local->SetInterlaced(true);
    Image.Add(Local);
    std::vector<uint8_t> Bytes = Save(Image);
    EXPECT_EQ(std::string(Bytes.begin(), Bytes.begin() + 6), "GIF87a");
    EXPECT_EQ(Bytes[10] & 0x87, 0x81);  // global table present, size field 1
    const size_t f1 = 13 + 12;          // first image descriptor
    ASSERT_EQ(Bytes[f1], 0x2C);
    EXPECT_EQ(Bytes[f1 + 9], 0x40);  // no local table: interlace bit kept
    TGIFImage Back;
    Load(Back, Bytes);
    ASSERT_EQ(Back.GetImages()->GetCount(), 2);
    EXPECT_TRUE(Back.GetImages()->GetFrame(0)->GetInterlaced());
    EXPECT_FALSE(Back.GetImages()->GetFrame(1)->GetInterlaced());  // written non-interlaced
    EXPECT_EQ(Back.GetImages()->GetFrame(1)->GetColorMap()->GetCount(), 256);

    // An extension makes the file 89a; a frame without pixels writes only it.
    auto* Comment = new TGIFCommentExtension(Image.GetImages()->GetFrame(0));
    Image.GetImages()->GetFrame(0)->GetExtensions()->Add(Comment);
    Comment->GetText()->Add(L"a");
    Comment->GetText()->Add(L"bc");
    Bytes = Save(Image);
    EXPECT_EQ(std::string(Bytes.begin(), Bytes.begin() + 6), "GIF89a");
    const std::vector<uint8_t> Block = {0x21, 0xFE, 1, 'a', 2, 'b', 'c', 0};
    EXPECT_EQ(std::vector<uint8_t>(Bytes.begin() + f1, Bytes.begin() + f1 + 8), Block);
    auto* Tail = new TGIFSubImage(&Image);
    Image.Add(Tail);
    auto* TailComment = new TGIFCommentExtension(Tail);
    Tail->GetExtensions()->Add(TailComment);
    TailComment->GetText()->Add(L"z");
    Bytes = Save(Image);
    const std::vector<uint8_t> End = {0x21, 0xFE, 1, 'z', 0, 0x3B};
    EXPECT_EQ(std::vector<uint8_t>(Bytes.end() - 6, Bytes.end()), End);
}

// Load, save and load again keeps frames, tables, extensions and delays.
TEST(GIFWrite, RoundTripKeepsStructure)
{
    for (uint8_t Encoder : {gpeLZW, gpeRLE}) {
        TGIFImage First;
        First.LoadFromFile(Fixture(L"extensions.gif"));
        First.PixelEncoder = Encoder;
        TGIFImage Second;
        Load(Second, Save(First));
        ASSERT_EQ(Second.GetImages()->GetCount(), 3);
        for (int i = 0; i < 3; ++i) {
            TGIFSubImage* a = First.GetImages()->GetFrame(i);
            TGIFSubImage* b = Second.GetImages()->GetFrame(i);
            EXPECT_EQ(FramePixels(a), FramePixels(b));
            EXPECT_EQ(FrameRGB(a), FrameRGB(b));
            EXPECT_EQ(b->GetExtensions()->GetCount(), a->GetExtensions()->GetCount());
            EXPECT_EQ(b->FrameRect().left, a->FrameRect().left);
            EXPECT_EQ(b->GetColorMap()->GetCount(), a->GetColorMap()->GetCount());
        }
        TGIFSubImage* f0 = Second.GetImages()->GetFrame(0);
        EXPECT_EQ(f0->GetControlExtension()->GetDelay(), 7);
        EXPECT_EQ(f0->GetControlExtension()->GetDisposal(), 2);
        EXPECT_TRUE(f0->GetTransparent());
        TGIFSubImage* f1 = Second.GetImages()->GetFrame(1);
        auto* App = dynamic_cast<TGIFUnknownAppExtension*>(f1->GetExtensions()->GetExtension(2));
        ASSERT_NE(App, nullptr);
        auto* Orig = dynamic_cast<TGIFUnknownAppExtension*>(
            First.GetImages()->GetFrame(1)->GetExtensions()->GetExtension(2));
        ASSERT_EQ(App->GetBlocks().size(), Orig->GetBlocks().size());
        for (size_t k = 0; k < App->GetBlocks().size(); ++k)
            EXPECT_EQ(App->GetBlocks()[k].BlockBytes, Orig->GetBlocks()[k].BlockBytes);
        // The ANIMEXTS loop block comes back as NETSCAPE 2.0 with its count.
        auto* Loop = dynamic_cast<TGIFAppExtNSLoop*>(f1->GetExtensions()->GetExtension(3));
        ASSERT_NE(Loop, nullptr);
        EXPECT_EQ(Loop->GetIdentifier(), "NETSCAPE");
        EXPECT_EQ(Loop->LoopCount, 5);
        EXPECT_EQ(Second.GetGlobalColorMap()->GetCount(), 4);
    }
}

// The album build's recolouring: load, set global entries 1 and 2, save.
TEST(GIFWrite, RecolouringChangesOnlyTwoEntries)
{
    for (const wchar_t* Name : {L"basic87.gif", L"im_still.gif", L"gs_anim.gif"}) {
        SCOPED_TRACE(testing::Message() << std::string(Name, Name + wcslen(Name)));
        TGIFImage Image;
        int Changes = 0;
        struct Counter {
            int* n;
            void Hit(classlib::TObject*) { ++*n; }
        } C{&Changes};
        Image.OnChange = classlib::TNotifyEvent(&C, &Counter::Hit);
        Image.LoadFromFile(Fixture(Name));
        Changes = 0;
        TGIFColorMap* Map = Image.GetGlobalColorMap();
        ASSERT_GE(Map->GetCount(), 3);
        Image.GetGlobalColorMap()->SetColor(1, MakeRGB(0x12, 0x34, 0x56));
        Image.GetGlobalColorMap()->SetColor(2, MakeRGB(0xAB, 0xCD, 0xEF));
        EXPECT_EQ(Changes, 0);  // never drawn: no backing bitmap, no OnChange
        testsupport::TempDir Dir;
        Image.SaveToFile(Dir.File(L"out.gif"));

        TGIFImage Original, Saved;
        Original.LoadFromFile(Fixture(Name));
        Saved.LoadFromFile(Dir.File(L"out.gif"));
        ASSERT_EQ(Saved.GetImages()->GetCount(), Original.GetImages()->GetCount());
        TGIFColorMap* a = Original.GetGlobalColorMap();
        TGIFColorMap* b = Saved.GetGlobalColorMap();
        ASSERT_EQ(a->GetCount(), b->GetCount());
        for (int i = 0; i < a->GetCount(); ++i) {
            if (i == 1)
                EXPECT_EQ(b->GetColor(i), MakeRGB(0x12, 0x34, 0x56));
            else if (i == 2)
                EXPECT_EQ(b->GetColor(i), MakeRGB(0xAB, 0xCD, 0xEF));
            else
                EXPECT_EQ(b->GetColor(i), a->GetColor(i)) << i;
        }
        for (int i = 0; i < Original.GetImages()->GetCount(); ++i)
            EXPECT_EQ(FramePixels(Saved.GetImages()->GetFrame(i)), FramePixels(Original.GetImages()->GetFrame(i)));
        EXPECT_EQ(Saved.GetWidth(), Original.GetWidth());
    }
}
